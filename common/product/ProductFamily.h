#pragma once
// The installed products of tarvel's package, as Windows Installer keeps them: the products of
// the family's upgrade code, and where it registered the family's program. The package and the
// kit ask Windows Installer's own records, where only administrators write, never a value that
// others could have written.
#include "common/platform/Status.h"

#include <windows.h>

// The program's component, the same in every version of the package.
extern const wchar_t kProgramComponent[];

// The index-th product of the family of upgradeCode; false once none is left.
bool familyProduct(const wchar_t* upgradeCode, DWORD index, wchar_t (&product)[39]);
// Whether Windows Installer lists product in that family.
bool isFamilyProduct(const wchar_t* upgradeCode, const wchar_t* product);
// The program of the family's installed product where Windows Installer registered it, whether
// the file is there or was removed since (repair puts it back there). ERROR_SUCCESS with
// installed telling whether any product of the family is listed and program its path (empty when
// none is); ERROR_BAD_CONFIGURATION when one is listed but no program of it can be read.
Status installedFamilyProgram(const wchar_t* upgradeCode, bool& installed, wchar_t (&program)[MAX_PATH]);
