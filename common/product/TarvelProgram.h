#pragma once
// Whether a file is a tarvel program: its version resource names the product and the
// program's own file name, which a renamed copy keeps and any other program lacks.
#include "common/text/Text.h"

#include <windows.h>

// Room for "65535.65535.65535.65535" and its NUL.
const size_t kVersionText = 4 * kNumberText;

// Whether path is a tarvel program, tarvel.exe or, by its own name, another of tarvel's files
// ("tarvel-check.exe" for the check); its file version ("1.1.0.0") goes into version when it is.
bool isTarvelProgram(const wchar_t* path, wchar_t (&version)[kVersionText],
                     const wchar_t* originalFilename = L"tarvel.exe");
// The same, the version aside: as a question handed on ("is this a tarvel program?").
bool isTarvelProgram(const wchar_t* path);
