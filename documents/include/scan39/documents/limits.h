#pragma once
// The bounds of a file of pages as numbers alone, without Qt or the PDF libraries: the command
// line's parser and the Python bindings check their arguments against them without bringing
// in what reads documents.

namespace scan39::documents {

// Resolution a PDF page is rendered at, in dots per inch.
inline constexpr int kDefaultDpi = 300;
inline constexpr int kMinDpi = 36;
inline constexpr int kMaxDpi = 1200;

// Seconds a file may take, its reading and every page's decoding or drawing together: a small
// file can be built to keep the reader busy for hours. The pages not read by then each get
// their error.
inline constexpr int kDefaultFileSeconds = 30;
inline constexpr int kMaxFileSeconds = 24 * 3600;

}  // namespace scan39::documents
