#pragma once
// One owner per kind of Windows resource, so that every early return releases what it holds.
#include <windows.h>
#include <lm.h>
#include <msi.h>
#include <objbase.h>
#include <oleauto.h>

#include <memory>
#include <type_traits>

struct RegKeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueHkey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

// A registry call's out-parameter for key, as UniqueBstr::receive gives one: what key held is
// closed first, and the key the call opens is key's once the statement has ended, so that no
// path leaves it unowned ("RegOpenKeyExW(root, path, 0, access, receive(key))").
class ReceivedHkey {
public:
    explicit ReceivedHkey(UniqueHkey& owner) : owner_(owner) { owner_.reset(); }
    ~ReceivedHkey() { owner_.reset(received_); }
    ReceivedHkey(const ReceivedHkey&) = delete;
    ReceivedHkey& operator=(const ReceivedHkey&) = delete;
    operator PHKEY() { return &received_; }

private:
    UniqueHkey& owner_;
    HKEY received_ = nullptr;
};
inline ReceivedHkey receive(UniqueHkey& key) { return ReceivedHkey(key); }

// What the system allocated with LocalAlloc for the caller: a converted SID, a security
// descriptor.
struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};
using UniqueLocal = std::unique_ptr<void, LocalFreer>;

// Text whose length is known only at run time (a property, a list of folders), from the
// process heap: the program does without the C++ library's strings, which would multiply its
// size.
struct HeapFreer {
    void operator()(wchar_t* memory) const { HeapFree(GetProcessHeap(), 0, memory); }
};
using UniqueHeapText = std::unique_ptr<wchar_t[], HeapFreer>;

// Room for characters, NUL-filled; null when the heap has none.
inline UniqueHeapText allocateText(size_t characters)
{
    return UniqueHeapText(
        static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, (characters + 1) * sizeof(wchar_t))));
}

// A copy of text, NUL and all; null when the heap has none.
inline UniqueHeapText copyText(const wchar_t* text)
{
    const size_t length = static_cast<size_t>(lstrlenW(text));
    UniqueHeapText copy = allocateText(length);
    if (copy) {
        CopyMemory(copy.get(), text, length * sizeof(wchar_t));
    }
    return copy;
}

// A kernel object: a process, a thread, a file. INVALID_HANDLE_VALUE, which CreateFileW
// answers for none, is held as none.
struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;
inline UniqueHandle ownHandle(HANDLE handle) { return UniqueHandle(handle != INVALID_HANDLE_VALUE ? handle : nullptr); }

// A search of FindFirstFileW; INVALID_HANDLE_VALUE becomes no search at all, at the edge.
struct FindCloser {
    void operator()(HANDLE search) const { FindClose(search); }
};
using UniqueFindHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, FindCloser>;
inline UniqueFindHandle ownSearch(HANDLE search)
{
    return UniqueFindHandle(search != INVALID_HANDLE_VALUE ? search : nullptr);
}

// A buffer the network management functions (NetUserGetLocalGroups) allocate for the caller.
struct NetBufferFreer {
    void operator()(void* buffer) const { NetApiBufferFree(buffer); }
};
using UniqueNetBuffer = std::unique_ptr<void, NetBufferFreer>;

// An event source of RegisterEventSourceW.
struct EventSourceCloser {
    void operator()(HANDLE source) const { DeregisterEventSource(source); }
};
using UniqueEventSource = std::unique_ptr<std::remove_pointer_t<HANDLE>, EventSourceCloser>;

// A module loaded for the caller (LoadLibraryExW), freed with FreeLibrary.
struct ModuleFreer {
    void operator()(HMODULE module) const { FreeLibrary(module); }
};
using UniqueModule = std::unique_ptr<std::remove_pointer_t<HMODULE>, ModuleFreer>;

struct SidFreer {
    void operator()(PSID sid) const { FreeSid(sid); }
};
using UniqueSid = std::unique_ptr<std::remove_pointer_t<PSID>, SidFreer>;

// This thread's membership of COM, for the logon task module's callers (the pass, the package's
// actions): left again only when the joining succeeded, since leaving after a failed
// CoInitialize would take away a reference this thread never gained.
class ComJoin {
public:
    ComJoin() : joined_(SUCCEEDED(CoInitialize(nullptr))) {}
    ~ComJoin()
    {
        if (joined_) {
            CoUninitialize();
        }
    }
    ComJoin(const ComJoin&) = delete;
    ComJoin& operator=(const ComJoin&) = delete;

private:
    const bool joined_;
};

// A BSTR made for one call, allocated from the text, or one a call hands out (receive());
// freed when its scope ends.
class UniqueBstr {
public:
    UniqueBstr() : value_(nullptr) {}
    explicit UniqueBstr(const wchar_t* text) : value_(SysAllocString(text)) {}
    ~UniqueBstr() { SysFreeString(value_); }
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;

    // A temporary would be freed before the callee is done with it.
    BSTR get() const& { return value_; }
    BSTR get() const&& = delete;
    // SysAllocString answers null only when it runs out of memory.
    bool ok() const { return value_ != nullptr; }
    // For a call's out-parameter: whatever was held before is freed first.
    BSTR* receive()
    {
        SysFreeString(value_);
        value_ = nullptr;
        return &value_;
    }

private:
    BSTR value_;
};

// A VARIANT set up with VariantInit and released with VariantClear.
class UniqueVariant {
public:
    UniqueVariant() { VariantInit(&value_); }
    ~UniqueVariant() { VariantClear(&value_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    // The variant owns the string it makes; false when it could not be allocated.
    bool setString(const wchar_t* text)
    {
        V_VT(&value_) = VT_BSTR;
        V_BSTR(&value_) = SysAllocString(text);
        return V_BSTR(&value_) != nullptr;
    }
    VARIANT& get() { return value_; }

private:
    VARIANT value_;
};

// A record, or any other handle Windows Installer hands out (a number, not a pointer), closed
// with MsiCloseHandle.
class UniqueMsiHandle {
public:
    explicit UniqueMsiHandle(MSIHANDLE handle) : handle_(handle) {}
    ~UniqueMsiHandle()
    {
        if (handle_ != 0) {
            MsiCloseHandle(handle_);
        }
    }
    UniqueMsiHandle(const UniqueMsiHandle&) = delete;
    UniqueMsiHandle& operator=(const UniqueMsiHandle&) = delete;

    MSIHANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }

private:
    MSIHANDLE handle_;
};
