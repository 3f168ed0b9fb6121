// Plain values of the interface kit that its public classes and the Qt side
// beneath them both read: kinds, styles and flags, no classes. Kept apart so
// that the Qt widgets need none of the kit's public headers.
#pragma once

#include "platform/types.h"

// --- Windows --------------------------------------------------------------------------

enum window_type {
  B_TITLED_WINDOW = 1,
  B_FLOATING_WINDOW = 21,  // small title tab, stays in front of the others
};

// Window flags.
inline constexpr uint32 B_NOT_RESIZABLE = 0x2;

// Workspaces.
inline constexpr uint32 B_CURRENT_WORKSPACE = 0;
inline constexpr uint32 B_ALL_WORKSPACES = 0xFFFFFFFF;

// --- Views ------------------------------------------------------------------------------

enum border_style { B_PLAIN_BORDER, B_FANCY_BORDER, B_NO_BORDER };

enum list_view_type { B_SINGLE_SELECTION_LIST, B_MULTIPLE_SELECTION_LIST };

enum alignment { B_ALIGN_LEFT, B_ALIGN_RIGHT, B_ALIGN_CENTER };

// --- Text -------------------------------------------------------------------------------

// The size of a BFont made without one, in the platform's points (pixels
// here, see BFont), and of the text of every view until it is given another.
inline constexpr float default_font_size = 10;
