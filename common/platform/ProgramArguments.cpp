#include "common/platform/ProgramArguments.h"

#include <shellapi.h>

ProgramArguments::ProgramArguments()
{
    int count = 0;
    list_ = CommandLineToArgvW(GetCommandLineW(), &count);
    owned_.reset(list_);
    count_ = list_ != nullptr && count > 0 ? count - 1 : 0;
}

bool ProgramArguments::are(std::initializer_list<const wchar_t*> words) const
{
    if (list_ == nullptr || static_cast<size_t>(count_) != words.size()) {
        return false;
    }
    int index = 1;
    for (const wchar_t* word : words) {
        if (lstrcmpiW(list_[index++], word) != 0) {
            return false;
        }
    }
    return true;
}
