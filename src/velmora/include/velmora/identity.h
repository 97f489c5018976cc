// The component's identity, for hosts that register or look up the control
// by its historical identifiers. The library itself uses only the version,
// the class name (in the Designer plugin) and the title; the project, type
// library and interface identifiers are here for hosts alone.
#pragma once

#include <velmora/version.h>

namespace VelmoraIdentity {

inline constexpr int VersionMajor = VELMORA_VERSION_MAJOR;
inline constexpr int VersionMinor = VELMORA_VERSION_MINOR;
inline constexpr int VersionRevision = VELMORA_VERSION_PATCH;
inline constexpr const char Version[] = VELMORA_VERSION_STRING;

inline constexpr const char ProjectName[] = "prjVelmora";
inline constexpr const char TypeLibraryName[] = "QORVelmora";
inline constexpr const char TypeLibraryHelpText[] = "Velmora Cross Reference";
inline constexpr const char TypeLibraryId[] = "{C1443EBC-3156-11D3-9C5D-0000B4942ACB}";
inline constexpr int TypeLibraryVersionMajor = 4;
inline constexpr int TypeLibraryVersionMinor = 0;
inline constexpr const char ClassName[] = "Velmora";
inline constexpr const char ClassId[] = "{92AA2752-FD2D-11D4-B95D-0008C7BBC99A}";
inline constexpr const char InterfaceName[] = "_Velmora";
inline constexpr const char InterfaceId[] = "{12EDBCD0-92EA-4050-884A-82E6CE382F6B}";
inline constexpr const char EventInterfaceName[] = "__Velmora";
inline constexpr const char EventInterfaceId[] = "{15343A9B-2C9F-41EB-B269-607D15BB6FE6}";

// The title that the control's own message boxes bear.
inline constexpr const char Title[] = "Velmora Cross Reference";

} // namespace VelmoraIdentity
