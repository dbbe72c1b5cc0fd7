#include "common/platform/Registry.h"

#include "common/text/Text.h"

#include <cwchar>
#include <utility>

namespace {

// What Windows keeps in a link key: the path of the key it leads to.
const wchar_t kLinkValue[] = L"SymbolicLinkValue";

// A link key is deleted only through a handle to the link itself: RegDeleteKeyW opens by name,
// which follows the link and deletes the key it leads to.
Status deleteKeyItself(HKEY key)
{
    using Deleter = LONG(WINAPI*)(HANDLE);
    const auto deleteKey = reinterpret_cast<Deleter>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtDeleteKey")));
    if (deleteKey == nullptr) {
        return ERROR_PROC_NOT_FOUND;
    }
    // An NTSTATUS: 0 is success, anything else keeps the link.
    return deleteKey(key) == 0 ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
}

// Byte for byte, without the C runtime's memcmp, which the check does not import.
bool sameBytes(const void* left, const void* right, size_t count)
{
    const auto* one = static_cast<const BYTE*>(left);
    const auto* other = static_cast<const BYTE*>(right);
    for (size_t at = 0; at < count; ++at) {
        if (one[at] != other[at]) {
            return false;
        }
    }
    return true;
}

}  // namespace

Status openKey(HKEY root, const wchar_t* path, REGSAM access, UniqueHkey& key)
{
    HKEY opened = nullptr;
    const Status status = registryStatus(RegOpenKeyExW(root, path, 0, access, &opened));
    key.reset(status == ERROR_SUCCESS ? opened : nullptr);
    return status;
}

Status createKey(HKEY root, const wchar_t* path, REGSAM access, UniqueHkey& key)
{
    HKEY made = nullptr;
    const Status status = registryStatus(RegCreateKeyExW(root, path, 0, nullptr, 0, access, nullptr, &made, nullptr));
    key.reset(status == ERROR_SUCCESS ? made : nullptr);
    return status;
}

Status openKey(HKEY root, const char* path, REGSAM access, UniqueHkey& key)
{
    wchar_t widePath[MAX_PATH] = {};
    return widenText(path, widePath) ? openKey(root, widePath, access, key) : ERROR_FILENAME_EXCED_RANGE;
}

Status createKey(HKEY root, const char* path, REGSAM access, UniqueHkey& key)
{
    wchar_t widePath[MAX_PATH] = {};
    return widenText(path, widePath) ? createKey(root, widePath, access, key) : ERROR_FILENAME_EXCED_RANGE;
}

Status openKeyItself(HKEY parent, const wchar_t* name, REGSAM access, UniqueHkey& key)
{
    HKEY opened = nullptr;
    const Status status = registryStatus(RegOpenKeyExW(parent, name, REG_OPTION_OPEN_LINK, access, &opened));
    key.reset(status == ERROR_SUCCESS ? opened : nullptr);
    return status;
}

bool isRegistryLink(HKEY key)
{
    DWORD type = REG_NONE;
    return RegQueryValueExW(key, kLinkValue, nullptr, &type, nullptr, nullptr) == ERROR_SUCCESS && type == REG_LINK;
}

Status openKeyWithoutLinks(HKEY root, const wchar_t* path, REGSAM access, REGSAM view, UniqueHkey& key,
                           wchar_t (&link)[MAX_PATH])
{
    link[0] = L'\0';
    key.reset();
    UniqueHkey level;
    size_t start = 0;
    const size_t length = std::wcslen(path);
    while (start < length) {
        size_t end = start;
        while (end < length && path[end] != L'\\') {
            ++end;
        }
        wchar_t part[MAX_PATH] = {};
        if (end - start >= MAX_PATH) {
            return ERROR_FILENAME_EXCED_RANGE;
        }
        lstrcpynW(part, path + start, static_cast<int>(end - start + 1));
        const bool last = end >= length;
        UniqueHkey next;
        const REGSAM wanted = (last ? access : KEY_ENUMERATE_SUB_KEYS | KEY_CREATE_SUB_KEY) | KEY_QUERY_VALUE | view;
        const Status status = openKeyItself(level ? level.get() : root, part, wanted, next);
        if (status != ERROR_SUCCESS) {
            return status;
        }
        if (isRegistryLink(next.get())) {
            lstrcpynW(link, path, static_cast<int>(end + 1 < MAX_PATH ? end + 1 : MAX_PATH));
            return ERROR_NOT_SUPPORTED;
        }
        level = static_cast<UniqueHkey&&>(next);
        start = end + 1;
    }
    key = static_cast<UniqueHkey&&>(level);
    return ERROR_SUCCESS;
}

Status readKeyDescriptor(HKEY key, BYTE (&descriptor)[4096])
{
    DWORD size = sizeof descriptor;
    return registryStatus(
        RegGetKeySecurity(key, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, descriptor, &size));
}

Status createKeyWithDescriptor(HKEY parent, const wchar_t* name, REGSAM access, PSECURITY_DESCRIPTOR descriptor,
                               UniqueHkey& key, bool& createdNew)
{
    createdNew = false;
    HKEY made = nullptr;
    DWORD disposition = 0;
    SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
    Status status = registryStatus(
        RegCreateKeyExW(parent, name, 0, nullptr, 0, access | READ_CONTROL, &attributes, &made, &disposition));
    if (status != ERROR_SUCCESS) {
        return status;
    }
    key.reset(made);
    createdNew = disposition == REG_CREATED_NEW_KEY;
    if (!createdNew) {
        return ERROR_SUCCESS;
    }
    // Set, not only given: the descriptor of RegCreateKeyExW is not always kept.
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    status = registryStatus(RegSetKeySecurity(key.get(), what, descriptor));
    BYTE readBack[4096] = {};
    if (status == ERROR_SUCCESS) {
        status = readKeyDescriptor(key.get(), readBack);
    }
    if (status != ERROR_SUCCESS) {
        return status;
    }
    // Owner and DACL as given, byte for byte.
    PSID owner = nullptr;
    PSID given = nullptr;
    BOOL defaulted = FALSE;
    BOOL present = FALSE;
    BOOL givenPresent = FALSE;
    PACL dacl = nullptr;
    PACL givenDacl = nullptr;
    const bool same =
        GetSecurityDescriptorOwner(readBack, &owner, &defaulted) &&
        GetSecurityDescriptorOwner(descriptor, &given, &defaulted) && owner != nullptr && given != nullptr &&
        EqualSid(owner, given) && GetSecurityDescriptorDacl(readBack, &present, &dacl, &defaulted) &&
        GetSecurityDescriptorDacl(descriptor, &givenPresent, &givenDacl, &defaulted) && present && givenPresent &&
        dacl != nullptr && givenDacl != nullptr && dacl->AclSize >= givenDacl->AclSize &&
        dacl->AceCount == givenDacl->AceCount && sameBytes(dacl + 1, givenDacl + 1, givenDacl->AclSize - sizeof(ACL));
    return same ? ERROR_SUCCESS : ERROR_INVALID_SECURITY_DESCR;
}

Status readDwordValue(HKEY key, const wchar_t* name, DWORD& value)
{
    DWORD type = REG_NONE;
    DWORD size = sizeof value;
    const Status status =
        registryStatus(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size));
    if (status == ERROR_MORE_DATA || (status == ERROR_SUCCESS && (type != REG_DWORD || size != sizeof value))) {
        return ERROR_INVALID_DATA;
    }
    return status;
}

Status readRegistryValue(HKEY key, const wchar_t* name, RegistryValue& value)
{
    value = RegistryValue();
    Status status = registryStatus(RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &value.size));
    if (status != ERROR_SUCCESS) {
        return status;
    }
    value.data = allocateText(value.size / sizeof(wchar_t) + 1);
    if (!value.data) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
    return registryStatus(
        RegQueryValueExW(key, name, nullptr, &value.type, reinterpret_cast<BYTE*>(value.data.get()), &value.size));
}

bool sameRegistryValue(Status first, const RegistryValue& a, Status second, const RegistryValue& b)
{
    if (first == ERROR_FILE_NOT_FOUND || second == ERROR_FILE_NOT_FOUND) {
        return first == second;
    }
    return first == ERROR_SUCCESS && second == ERROR_SUCCESS && a.type == b.type && a.size == b.size &&
           sameBytes(a.data.get(), b.data.get(), a.size);
}

namespace {

// key, opened as itself, with all it holds: each pass deletes the first subkey, until none is
// left. A subkey that is listed must open: one that cannot (a name with a NUL in it, which the
// native API makes and no Win32 name can reach) would be listed first again for ever.
Status deleteOpenedTree(UniqueHkey key, REGSAM view)
{
    while (!isRegistryLink(key.get())) {
        wchar_t name[256] = {};
        DWORD length = 256;
        Status status = registryStatus(RegEnumKeyExW(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr));
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        UniqueHkey child;
        if (status == ERROR_SUCCESS) {
            status = openKeyItself(key.get(), name, KEY_READ | DELETE | view, child);
        }
        if (status == ERROR_FILE_NOT_FOUND) {
            return ERROR_CANTOPEN;
        }
        if (status == ERROR_SUCCESS) {
            status = deleteOpenedTree(std::move(child), view);
        }
        if (status != ERROR_SUCCESS) {
            return status;
        }
    }
    return deleteKeyItself(key.get());
}

}  // namespace

Status deleteKeyTree(HKEY parent, const wchar_t* name, REGSAM view)
{
    UniqueHkey key;
    const Status status = openKeyItself(parent, name, KEY_READ | DELETE | view, key);
    if (status == ERROR_FILE_NOT_FOUND) {
        return ERROR_SUCCESS;
    }
    return status == ERROR_SUCCESS ? deleteOpenedTree(std::move(key), view) : status;
}
