#include "kit/PackageChange.h"

#include "common/platform/Paths.h"
#include "common/product/ProductFamily.h"
#include "kit/Journal.h"
#include "kit/Programs.h"

#include <msi.h>
#include <msiquery.h>

bool isProductCode(const wchar_t* text)
{
    if (lstrlenW(text) != 38 || text[0] != L'{' || text[37] != L'}') {
        return false;
    }
    for (int at = 1; at < 37; ++at) {
        const bool dash = at == 9 || at == 14 || at == 19 || at == 24;
        const wchar_t c = text[at];
        const bool hex = (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'F');
        if (dash ? c != L'-' : !hex) {
            return false;
        }
    }
    return true;
}

void findPackage(const KitSession& kit, wchar_t (&package)[MAX_PATH])
{
    package[0] = L'\0';
    wchar_t pattern[MAX_PATH] = {};
    if (!kitFile(kit, L"tarvel-*.msi", pattern)) {
        return;
    }
    WIN32_FIND_DATAW found = {};
    const UniqueFindHandle search = ownSearch(FindFirstFileW(pattern, &found));
    if (!search) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            kitFile(kit, found.cFileName, package);
        }
    } while (FindNextFileW(search.get(), &found));
}

Status packageProductCode(const wchar_t* package, wchar_t (&product)[39])
{
    product[0] = L'\0';
    MSIHANDLE opened = 0;
    Status status = MsiOpenDatabaseW(package, nullptr, &opened);  // MSIDBOPEN_READONLY, which is 0
    const UniqueMsiHandle database(opened);
    MSIHANDLE made = 0;
    if (status == ERROR_SUCCESS) {
        status = MsiDatabaseOpenViewW(database.get(),
                                      L"SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'", &made);
    }
    const UniqueMsiHandle view(made);
    if (status == ERROR_SUCCESS) {
        status = MsiViewExecute(view.get(), 0);
    }
    MSIHANDLE fetched = 0;
    if (status == ERROR_SUCCESS) {
        status = MsiViewFetch(view.get(), &fetched);
    }
    const UniqueMsiHandle row(fetched);
    DWORD length = 39;
    if (status == ERROR_SUCCESS) {
        status = MsiRecordGetStringW(row.get(), 1, product, &length);
    }
    if (status == ERROR_SUCCESS && !isProductCode(product)) {
        status = ERROR_INVALID_DATA;
    }
    if (status != ERROR_SUCCESS) {
        product[0] = L'\0';
    }
    return status;
}

bool runPackage(const KitSession& kit, const wchar_t* package, bool install, DWORD& status, Text& problem)
{
    wchar_t arguments[3 * MAX_PATH] = {};
    const size_t room = sizeof arguments / sizeof arguments[0];
    const bool fits = appendText(arguments, room, install ? L"/i \"" : L"/x \"") &&
                      appendText(arguments, room, package) && appendText(arguments, room, L"\" /qn /l*v \"") &&
                      appendText(arguments, room, kit.folder) &&
                      appendText(arguments, room, install ? L"logs\\install.log\"" : L"logs\\uninstall.log\"");
    if (!fits) {
        problem << "its command line is too long";
        return false;
    }
    // The package judged is the package installed: held against change while msiexec reads it.
    UniqueHandle held;
    Text why;
    if (!holdJudged(package, held, why)) {
        problem << "the package may not be installed: " << why;
        return false;
    }
    return runMsiexec(arguments, status, problem);
}

bool uninstallProduct(const KitSession& kit, const wchar_t* product)
{
    wchar_t arguments[64] = L"/x ";
    appendText(arguments, 64, product);
    appendText(arguments, 64, L" /qn");
    DWORD status = 0;
    Text why;
    runMsiexec(arguments, status, why);
    if (familyInstalled()) {
        sayFailure(kit, Text("Ombrix Tarvel, which the kit installed, is still installed: uninstall it"));
        return false;
    }
    say(kit, Text("Ombrix Tarvel, which the kit installed, is not installed"));
    return true;
}

bool familyInstalled()
{
    wchar_t product[39] = {};
    return familyProduct(TARVEL_UPGRADE_CODE, 0, product);
}

bool isOwnProduct(const wchar_t* product) { return isFamilyProduct(TARVEL_UPGRADE_CODE, product); }

bool isKnownProduct(const wchar_t* product)
{
    const INSTALLSTATE state = MsiQueryProductStateW(product);
    return state != INSTALLSTATE_UNKNOWN && state != INSTALLSTATE_INVALIDARG;
}

Status installedProgram(bool& installed, wchar_t (&program)[MAX_PATH])
{
    const Status status = installedFamilyProgram(TARVEL_UPGRADE_CODE, installed, program);
    if (status == ERROR_SUCCESS && program[0] != L'\0' && !fileExists(program)) {
        program[0] = L'\0';
    }
    return status;
}
