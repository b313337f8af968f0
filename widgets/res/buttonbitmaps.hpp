#pragma once
// Resource names of the 24 x 24 button bitmaps (link the vzbuttonbitmaps target;
// load with TBitmap::LoadFromResourceName(instance, kBitmapNew)). The top-left
// pixel of each is the transparent colour.
#ifndef RC_INVOKED
inline constexpr char kBitmapNew[] = "VZBTN_NEW";
inline constexpr char kBitmapEdit[] = "VZBTN_EDIT";
inline constexpr char kBitmapDelete[] = "VZBTN_DELETE";
inline constexpr char kBitmapHelp[] = "VZBTN_HELP";
inline constexpr char kBitmapAccept[] = "VZBTN_ACCEPT";
inline constexpr char kBitmapCancel[] = "VZBTN_CANCEL";
#endif
