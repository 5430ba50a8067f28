#pragma once
// Runs scan39's jobs through the scanning control, offscreen.

#include <QString>
#include <cstdint>

#include "io_p.h"
#include "options_p.h"
#include "scan39/host/picture.h"

namespace scan39 {
class Uo_Scan;
}

namespace scan39::cli {

enum ExitStatus : int { kExitDecoded = 0, kExitNotDecoded = 1, kExitError = 2 };

// Drags the box over the control's picture with real mouse events on Image1 (press at
// (x1, y1), one move to (x2, y2), release; pixels of the picture) and scans.
std::int16_t DragAndScan(Uo_Scan& control, const Box& box);

// A box a person would drag over a symbol whose bars span the given pixel bounds: from the
// white margin left of it to the white margin right of it, its top edge a few pixels inside
// the bars, dragged down and to the right.
Box BoxAcross(int left, int right, int top, int bottom);

// Puts the names to read in options.pictureBytes (and pictures): --files-from lists read where
// they stood, a folder replaced by the pictures in it and its subfolders (judged by content,
// in byte order of their paths; hidden names, links to folders and special files passed
// over). Says on `err` what it could not do. Returns kExitDecoded, kExitNotDecoded when a
// folder held no picture, or kExitError when a folder could not be searched or a list could
// not be read (`listFailed` then, and nothing to run).
int ExpandPictures(Options& options, Sink& err, bool& listFailed);

// Runs the parsed options (help excluded); returns the exit status. A failed write to `out`
// stops the run; the caller reports it.
int Run(const Options& options, Sink& out, Sink& err);

// The same without --box or --sample: every symbol of each picture, through the reader.
int RunAutomatic(const Options& options, Sink& out, Sink& err);

}  // namespace scan39::cli
