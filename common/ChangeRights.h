#pragma once
// Who, besides administrators, may change a file or folder: whoever can replace a program
// that starts at logon, or the folders it lies in, runs their own program there. The check
// and the package's lock ask it the same way.
#include <windows.h>

#include "common/Paths.h"
#include "common/Status.h"

struct Changer {
    bool found = false;
    const char* how = "";       // "owned by", "renamed also by", "deleted also by", "changed also by"
    wchar_t account[256] = {};  // the account's name, or its SID when it has none
};

// Reads path's owner and DACL into a descriptor from LocalAlloc.
using DescriptorReader = Status (*)(const wchar_t* path, PSECURITY_DESCRIPTOR* descriptor);
Status readDescriptor(const wchar_t* path, PSECURITY_DESCRIPTOR* descriptor);

// How objects are judged: where each path's descriptor comes from (the file system, or in a
// test Windows' own descriptors, which Wine cannot keep), and whether Power Users count as
// administrators: before Windows 6.0 they are, by design, able to change Program Files and
// the system; from 6.0 on a member is an ordinary user.
struct Judge {
    DescriptorReader read = readDescriptor;
    bool powerUsersTrusted = false;
};
// The machine's own: its file system, its release.
Judge machineJudge();

// The first untrusted account that owns the object or that an allow entry for the object
// itself gives a changing right. Trusted: SYSTEM, Administrators, TrustedInstaller, CREATOR
// OWNER (a placeholder), the users who are members of Administrators, and Power Users where
// judge says so.
Changer untrustedChanger(PSECURITY_DESCRIPTOR descriptor, ObjectKind kind, const Judge& judge = Judge());

// Reads path's owner and permissions as judge reads them; ERROR_SUCCESS unless they could
// not be read.
Status untrustedChangerOf(const wchar_t* path, ObjectKind kind, Changer& changer, const Judge& judge);

bool isTrustedAccount(PSID sid, const Judge& judge = Judge());

// Judges start (a program: File; an install folder: Folder) and every folder above it up to
// the drive's root, top last: visit(path, kind, status, changer) for each, status saying
// whether its descriptor could be read; the walk stops when visit answers false.
template <typename Visit>
void walkUp(const wchar_t* start, ObjectKind kind, const Judge& judge, Visit visit)
{
    wchar_t path[MAX_PATH + 1] = {};
    if (lstrlenW(start) > MAX_PATH) {
        return;
    }
    lstrcpynW(path, start, MAX_PATH + 1);
    do {
        Changer changer;
        const Status status = untrustedChangerOf(path, kind, changer, judge);
        if (!visit(path, kind, status, changer)) {
            return;
        }
    } while (toParentFolder(path, kind));
}
