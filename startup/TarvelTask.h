#pragma once
// The logon task that keeps tarvel started on Windows 6.0 and 6.1: the program registers it
// and the installer removes it, by this one name.
inline constexpr wchar_t kTarvelTaskName[] = L"Ombrix Tarvel";
inline constexpr wchar_t kTarvelTaskAuthor[] = L"Kelm, Feldane";
// Word for word as the task has always carried it: Task Scheduler shows it, and administrators
// and their tools match it. It reads misspelt; it stays so.
inline constexpr wchar_t kTarvelTaskDescription[] = L"A tool for handle Intel storage settings";
