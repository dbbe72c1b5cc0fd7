#include "kit/MarkerChange.h"

#include "common/platform/Paths.h"
#include "kit/Journal.h"

#include <cwchar>

namespace {

const wchar_t* const kStateNames[] = {L"absent", L"file", L"directory"};

// A marker the kit made holds what someone put there: kept under a name of its own.
void keepContents(const KitSession& kit)
{
    wchar_t kept[MAX_PATH] = {};
    lstrcpynW(kept, kit.marker, MAX_PATH);
    appendText(kept, MAX_PATH, L".kit-contents");
    for (unsigned long tries = 1; pathExists(kept) && tries < 100; ++tries) {
        wchar_t number[kNumberText] = {};
        writeDecimal(GetTickCount() % 100000 + tries, number);
        lstrcpynW(kept, kit.marker, MAX_PATH);
        appendText(kept, MAX_PATH, L".kit-contents-");
        appendText(kept, MAX_PATH, number);
    }
    if (MoveFileW(kit.marker, kept)) {
        Text line;
        line << kit.marker << ", which the kit made, held what someone put there: it is kept as " << kept;
        say(kit, line);
    }
}

bool removeOwnMarker(const KitSession& kit)
{
    if (markerState(kit) == MarkerState::Directory) {
        RemoveDirectoryW(kit.marker);
    }
    if (pathExists(kit.marker)) {
        keepContents(kit);
    }
    Text line;
    line << "marker " << kit.marker;
    if (pathExists(kit.marker)) {
        line << " is still there; the kit made it, and it was not there before";
        sayFailure(kit, line);
        return false;
    }
    line << " absent again, as it was found";
    say(kit, line);
    return true;
}

bool putMarkerBack(const KitSession& kit)
{
    if (pathExists(kit.aside) && !pathExists(kit.marker)) {
        MoveFileW(kit.aside, kit.marker);
    }
    Text line;
    if (pathExists(kit.marker) && !pathExists(kit.aside)) {
        line << "marker " << kit.marker << " back as it was found";
        say(kit, line);
        return true;
    }
    if (!pathExists(kit.marker)) {
        line << "marker " << kit.marker << " is not there, nor " << kit.aside;
    } else {
        line << kit.aside << " could not be moved back to " << kit.marker;
    }
    sayFailure(kit, line);
    return false;
}

}  // namespace

MarkerState markerState(const KitSession& kit)
{
    const DWORD attributes = GetFileAttributesW(kit.marker);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return MarkerState::Absent;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? MarkerState::Directory : MarkerState::File;
}

const wchar_t* markerStateName(MarkerState state) { return kStateNames[static_cast<int>(state)]; }

bool markerStateNamed(const wchar_t* name, MarkerState& state)
{
    for (int at = 0; at < 3; ++at) {
        if (std::wcscmp(name, kStateNames[at]) == 0) {
            state = static_cast<MarkerState>(at);
            return true;
        }
    }
    return false;
}

void sayMarkerFound(const KitSession& kit, MarkerState found)
{
    Text line;
    line << "marker " << kit.marker << ": " << markerStateName(found);
    say(kit, line);
}

bool setMarker(const KitSession& kit, MarkerState found, bool present)
{
    const bool foundAbsent = found == MarkerState::Absent;
    if (present && foundAbsent && !pathExists(kit.marker)) {
        CreateDirectoryW(kit.marker, nullptr);
    } else if (present && !foundAbsent && pathExists(kit.aside) && !pathExists(kit.marker)) {
        MoveFileW(kit.aside, kit.marker);
    } else if (!present && foundAbsent && markerState(kit) == MarkerState::Directory) {
        RemoveDirectoryW(kit.marker);
    } else if (!present && !foundAbsent && pathExists(kit.marker) && !pathExists(kit.aside)) {
        MoveFileW(kit.marker, kit.aside);
    }
    const bool done = pathExists(kit.marker) == present;
    Text line;
    line << "marker " << kit.marker << (done ? " made " : " could not be made ") << (present ? "present" : "absent");
    if (done) {
        say(kit, line);
    } else {
        sayFailure(kit, line);
    }
    return done;
}

bool undoMarker(const KitSession& kit, MarkerState found)
{
    return found == MarkerState::Absent ? removeOwnMarker(kit) : putMarkerBack(kit);
}

bool moveMarkerAside(const KitSession& kit)
{
    if (pathExists(kit.marker) && !pathExists(kit.aside)) {
        MoveFileW(kit.marker, kit.aside);
    }
    return !pathExists(kit.marker);
}
