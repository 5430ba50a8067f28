#pragma once
// Internals of the Qt font dialog, open to the tests: the face name's trip between a
// QString and the logical font's 32-byte field.

#include <QString>

#include "scan39/dialogs/comdlg.h"

namespace scan39::dialogs::detail {

// The face name up to its first NUL, never past the field. The system code page is UTF-8.
QString FaceName(const LOGFONTA& font);

// Stores `name` as UTF-8 in at most 31 bytes, cut before a character that does not fit
// whole, and NUL-pads the rest of the field.
void SetFaceName(LOGFONTA& font, const QString& name);

}  // namespace scan39::dialogs::detail
