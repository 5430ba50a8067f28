#pragma once
// The symbol's corners at the ends of its bars, measured in the picture once the lines agree.

#include "scan39/geometry.h"
#include "scan39/image_view.h"
#include "vote_p.h"

namespace scan39::reader::detail {

// Replaces the corners from the agreeing lines with the ends of the first and the last bar,
// and the angle with the one between them; leaves both when the ends cannot be measured.
void FindBarEnds(const GreyView& picture, int characters, Consensus& c);

}  // namespace scan39::reader::detail
