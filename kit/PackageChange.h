#pragma once
// The kit's change by the package: installed and uninstalled through msiexec.exe when no
// product of its family is on the machine. The record names its product code before the
// install, so that restore can uninstall what a cut run left, and only that.
#include "common/platform/Status.h"
#include "kit/Kit.h"

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper-case hex digits, as a kit writes it.
bool isProductCode(const wchar_t* text);

// The package beside the kit, tarvel-*.msi; empty when there is none.
void findPackage(const KitSession& kit, wchar_t (&package)[MAX_PATH]);
// The product code package holds (its Property table's ProductCode), in the form a kit writes;
// ERROR_INVALID_DATA for one of another form.
Status packageProductCode(const wchar_t* package, wchar_t (&product)[39]);
// Installs or uninstalls package, judged and held against change while msiexec.exe reads it,
// its log in the kit's logs folder; as runStep answers.
bool runPackage(const KitSession& kit, const wchar_t* package, bool install, DWORD& status, Text& problem);
// Uninstalls product, which the record names, and says whether the family is gone; false, with
// a FAIL line, when it is still installed.
bool uninstallProduct(const KitSession& kit, const wchar_t* product);

// Whether Windows Installer lists a product of the package's own family.
bool familyInstalled();
// Whether product is of the package's own family; whether Windows Installer knows it at all.
bool isOwnProduct(const wchar_t* product);
bool isKnownProduct(const wchar_t* product);
// Whether Ombrix Tarvel is installed, and its program as Windows Installer registered it when
// that file is there (else empty). ERROR_SUCCESS, or why the installed program could not be read.
Status installedProgram(bool& installed, wchar_t (&program)[MAX_PATH]);
