#pragma once
// Registry keys opened, made, read and deleted as a tool that trusts only what it judged must:
// no registry link followed (a link made where a key is expected leads to another product's
// key, whose permissions or contents would then be changed), a key it makes new and given its
// permissions explicitly (Windows ignores the descriptor of a key that appeared meanwhile, and
// Wine every one), a value read as the one type it must be.
#include "common/platform/Owners.h"
#include "common/platform/Status.h"

#include <windows.h>

// Opens path under root ("A\\B\\C"), each level with REG_OPTION_OPEN_LINK, for access at the
// last level; view is 0, KEY_WOW64_32KEY or KEY_WOW64_64KEY. ERROR_SUCCESS with key set, or the
// status that kept a level from being opened; a level that is a registry link is answered as
// ERROR_NOT_SUPPORTED with link naming the level ("SOFTWARE\\Ombrix"), and is not followed.
Status openKeyWithoutLinks(HKEY root, const wchar_t* path, REGSAM access, REGSAM view, UniqueHkey& key,
                           wchar_t (&link)[MAX_PATH]);

// Opens or makes path under root as RegOpenKeyExW and RegCreateKeyExW do, into key, which is
// left empty on failure: for keys the tool only reads or writes values in, not ones it judges.
Status openKey(HKEY root, const wchar_t* path, REGSAM access, UniqueHkey& key);
Status createKey(HKEY root, const wchar_t* path, REGSAM access, UniqueHkey& key);
// The same for the program's own key paths, which are ANSI texts.
Status openKey(HKEY root, const char* path, REGSAM access, UniqueHkey& key);
Status createKey(HKEY root, const char* path, REGSAM access, UniqueHkey& key);

// Opens name under parent with REG_OPTION_OPEN_LINK: the key itself where name is a link.
Status openKeyItself(HKEY parent, const wchar_t* name, REGSAM access, UniqueHkey& key);
// Whether key, opened as itself, is a registry link.
bool isRegistryLink(HKEY key);

// Makes name under parent with descriptor (owner and DACL), set explicitly and read back:
// createdNew says whether the key is new, else it was there and the caller judges it as found
// (its descriptor is then left as it is). ERROR_INVALID_SECURITY_DESCR when the descriptor read
// back is not the one given.
Status createKeyWithDescriptor(HKEY parent, const wchar_t* name, REGSAM access, PSECURITY_DESCRIPTOR descriptor,
                               UniqueHkey& key, bool& createdNew);

// A key's owner and DACL, as Windows holds them, into descriptor (room of its own).
Status readKeyDescriptor(HKEY key, BYTE (&descriptor)[4096]);

// A REG_DWORD of four bytes; ERROR_INVALID_DATA for a value of another type or size.
Status readDwordValue(HKEY key, const wchar_t* name, DWORD& value);

// A value as it is, whatever its type and size: data holds size bytes.
struct RegistryValue {
    DWORD type = REG_NONE;
    DWORD size = 0;
    UniqueHeapText data;
};
// ERROR_SUCCESS with value filled, ERROR_FILE_NOT_FOUND for an absent one, else the registry's
// status (ERROR_MORE_DATA when it grew between its size and its reading).
Status readRegistryValue(HKEY key, const wchar_t* name, RegistryValue& value);
// Whether two values are the same: both absent, or of one type and the same bytes.
bool sameRegistryValue(Status first, const RegistryValue& a, Status second, const RegistryValue& b);

// Deletes name under parent with all it holds, absent being success; a registry link there,
// or anywhere below, is deleted as the link, never followed. view as for openKeyWithoutLinks.
Status deleteKeyTree(HKEY parent, const wchar_t* name, REGSAM view);
