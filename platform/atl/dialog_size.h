#pragma once
// The size in pixels of a dialog made from a template: its dialog units
// converted with the base units of the template's font, as the dialog
// manager will convert them.

#include <windows.h>

namespace atl {

// False when the module has no such template or it cannot be read.
bool dialog_template_size(HINSTANCE module, int template_id, SIZE& size) noexcept;

} // namespace atl
