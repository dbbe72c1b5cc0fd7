#include "common/product/Marker.h"

#include "common/platform/SystemFacts.h"

const char* markerPath()
{
    // A 32-bit program on 64-bit Windows looks for a marker of its own.
    return isWow64() ? "C:\\Preload64" : "C:\\Preload";
}
