#pragma once
// The phone book table VZPB.DBF with its index VZPB.CDX in the program directory:
// creating it, and opening it in name order with deleted entries hidden.
#include <string>

#include "dbengine/dataset.hpp"
#include "phonebook/dataengine.hpp"

namespace vz::phonebook {

inline constexpr const char* kPhoneTableName = "VZPB.DBF";
inline constexpr const char* kPhoneIndexName = "VZPB.CDX";
inline constexpr const char* kOpenFailedMessage = "Unable to open or create VZPB.DBF";
inline constexpr const char* kVisibleCondition = ".not. deleted()";
inline constexpr int kNameWidth = 35;
inline constexpr int kPhoneWidth = 25;

// What the phone book needs from the program around it. The Win32 side answers
// with the program's own path, message boxes and the message loop.
class PhoneBookUi {
 public:
  virtual ~PhoneBookUi() = default;
  // Full path of the running program (command-line argument zero).
  virtual std::string ProgramPath() = 0;
  virtual void ShowInfo(const std::string& text) = 0;
  // Asks the application to end (the quit message).
  virtual void Terminate() = 0;
  // The warning beep: the user's action met an entry that is no longer there.
  virtual void Beep() = 0;
  virtual bool FileExists(const std::string& path);
};

// The program's directory, with its trailing backslash; computed afresh each call.
std::string ProgramDir(PhoneBookUi& ui);

// Gives the browser's table its two field components (NAME and PHONE).
void AddPhoneFields(data::TTable& table);

bool MakePhoneDBF(TDataEngine& engine, PhoneBookUi& ui);
bool OpenPhoneDBF(data::TTable& table, TDataEngine& engine, PhoneBookUi& ui);

// The browser's start: OpenPhoneDBF, and when it fails the message and the end of
// the program. Returns whether the table is open.
bool OpenPhoneBookOrQuit(data::TTable& table, TDataEngine& engine, PhoneBookUi& ui);

}  // namespace vz::phonebook
