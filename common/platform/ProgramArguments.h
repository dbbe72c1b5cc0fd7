#pragma once
// The arguments a program was started with, taken apart as Windows' own programs take a
// command line apart (CommandLineToArgvW: quotes and backslashes as CreateProcess's callers
// write them), each whole and none beyond those given, the program's own name left out. The
// tools read them with this alone, so that no argument is cut, merged or read past its end.
#include "common/platform/Owners.h"

#include <initializer_list>

class ProgramArguments {
public:
    ProgramArguments();
    ProgramArguments(const ProgramArguments&) = delete;
    ProgramArguments& operator=(const ProgramArguments&) = delete;

    // False when Windows could not take the command line apart (no memory for it).
    bool read() const { return list_ != nullptr; }
    int count() const { return count_; }
    // Whether the arguments are exactly words, in their order, case aside.
    bool are(std::initializer_list<const wchar_t*> words) const;

private:
    UniqueLocal owned_;
    LPWSTR* list_ = nullptr;
    int count_ = 0;
};
