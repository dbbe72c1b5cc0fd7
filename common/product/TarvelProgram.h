#pragma once
// Whether a file is a tarvel program: its version resource names the product and the
// program's own file name, which a renamed copy keeps and any other program lacks.
#include "common/text/Text.h"

#include <windows.h>

// Room for "65535.65535.65535.65535" and its NUL.
const size_t kVersionText = 4 * kNumberText;

// Whether path is a tarvel program; its file version ("1.1.0.0") goes into version when it is.
bool isTarvelProgram(const wchar_t* path, wchar_t (&version)[kVersionText]);
// The same for a file of tarvel's by its own name: "tarvel-check.exe" for the check.
bool isTarvelFile(const wchar_t* path, const wchar_t* originalFilename, wchar_t (&version)[kVersionText]);
