#include "common/product/ProductFamily.h"

#include <msi.h>

const wchar_t kProgramComponent[] = L"{9A3F2B61-7C4E-4D85-A1B0-2E6F8D4C3B17}";

bool familyProduct(const wchar_t* upgradeCode, DWORD index, wchar_t (&product)[39])
{
    return MsiEnumRelatedProductsW(upgradeCode, 0, index, product) == ERROR_SUCCESS;
}

bool isFamilyProduct(const wchar_t* upgradeCode, const wchar_t* product)
{
    wchar_t listed[39] = {};
    for (DWORD index = 0; familyProduct(upgradeCode, index, listed); ++index) {
        if (lstrcmpiW(listed, product) == 0) {
            return true;
        }
    }
    return false;
}

Status installedFamilyProgram(const wchar_t* upgradeCode, bool& installed, wchar_t (&program)[MAX_PATH])
{
    installed = false;
    program[0] = L'\0';
    wchar_t product[39] = {};
    for (DWORD index = 0; familyProduct(upgradeCode, index, product); ++index) {
        installed = true;
        wchar_t path[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        const INSTALLSTATE state = MsiGetComponentPathW(product, kProgramComponent, path, &size);
        if ((state == INSTALLSTATE_LOCAL || state == INSTALLSTATE_ABSENT) && size < MAX_PATH && path[0] != L'\0') {
            lstrcpynW(program, path, MAX_PATH);
            return ERROR_SUCCESS;
        }
    }
    return installed ? ERROR_BAD_CONFIGURATION : ERROR_SUCCESS;
}
