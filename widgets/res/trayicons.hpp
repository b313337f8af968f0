#pragma once
// Resource names of the tray icons (link the vztrayicons target): the controller's
// icon and the three frames of the busy animation, each with a 16 x 16 and a
// 32 x 32 image. The frames can be named in lower case with aoIconsInExe.
#ifndef RC_INVOKED
inline constexpr char kTrayIconFax[] = "VZFAX";
inline constexpr char kTrayIconBusy1[] = "VZBUSY1";
inline constexpr char kTrayIconBusy2[] = "VZBUSY2";
inline constexpr char kTrayIconBusy3[] = "VZBUSY3";
#endif
