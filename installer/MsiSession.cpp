#include "installer/MsiSession.h"

void logLine(MSIHANDLE install, INSTALLMESSAGE kind, const wchar_t* text, const wchar_t* first, const wchar_t* second,
             const wchar_t* third)
{
    const UniqueMsiHandle record(MsiCreateRecord(3));
    if (!record) {
        return;
    }
    MsiRecordSetStringW(record.get(), 0, text);
    MsiRecordSetStringW(record.get(), 1, first);
    MsiRecordSetStringW(record.get(), 2, second != nullptr ? second : L"");
    MsiRecordSetStringW(record.get(), 3, third != nullptr ? third : L"");
    MsiProcessMessage(install, kind, record.get());
}

void logFailure(MSIHANDLE install, const wchar_t* text, const wchar_t* object, Status status)
{
    const UniqueMsiHandle record(MsiCreateRecord(2));
    if (!record) {
        return;
    }
    MsiRecordSetStringW(record.get(), 0, text);
    MsiRecordSetStringW(record.get(), 1, object);
    MsiRecordSetInteger(record.get(), 2, static_cast<int>(status));
    MsiProcessMessage(install, INSTALLMESSAGE_ERROR, record.get());
}

Status readProperty(MSIHANDLE install, const wchar_t* name, UniqueHeapText& text)
{
    wchar_t empty[1] = {L'\0'};
    DWORD size = 0;
    const Status status = MsiGetPropertyW(install, name, empty, &size);
    if (status != ERROR_MORE_DATA && status != ERROR_SUCCESS) {
        return status;
    }
    text = allocateText(size);
    if (!text) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    ++size;
    return MsiGetPropertyW(install, name, text.get(), &size);
}

bool readNeededProperty(MSIHANDLE install, const wchar_t* name, const wchar_t* text, Status absent,
                        UniqueHeapText& value)
{
    const Status read = readProperty(install, name, value);
    if (read == ERROR_SUCCESS && value[0] != L'\0') {
        return true;
    }
    logFailure(install, text, L"", read != ERROR_SUCCESS ? read : absent);
    return false;
}
