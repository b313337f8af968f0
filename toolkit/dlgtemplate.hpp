#pragma once
// Reads an extended dialog template (DIALOGEX in an .rc file, resource type
// RT_DIALOG). The toolkit builds its forms from these templates with one
// difference from the system's dialog manager: every coordinate is taken as
// pixels at 96 DPI, so a form's .rc file states the exact layout. A control's
// help ID (the last number of a CONTROL line) names the control it sits on
// (0: the form itself); its coordinates are then relative to that control.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vz::dlg {

// Predefined control classes of the template format (an ordinal instead of a name).
inline constexpr int kClassButton = 0x80;
inline constexpr int kClassEdit = 0x81;
inline constexpr int kClassStatic = 0x82;

struct Item {
  std::uint32_t helpId = 0;
  std::uint32_t exStyle = 0;
  std::uint32_t style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::uint32_t id = 0;
  int classOrdinal = 0;   // 0 when the class is given by name
  std::string className;  // the name, or empty
  std::string title;
};

struct Template {
  std::uint32_t style = 0;
  std::uint32_t exStyle = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::string className;
  std::string title;
  int pointSize = 0;  // 0 when the template names no font
  int weight = 0;
  bool italic = false;
  std::string typeface;
  std::vector<Item> items;
};

// Throws Exception for anything but a well-formed DIALOGEX.
Template Parse(const std::uint8_t* data, std::size_t size);

}  // namespace vz::dlg
