#pragma once
// Fax image names handed to the driver at document start, and the job
// descriptor (.JFD) left beside an accepted image at document end.
#include <string>

#include "controller/controller_env.hpp"

namespace vz {

// Used when VZPD.INI itself is missing, or names an output directory too long.
inline constexpr char kFallbackFaxFileName[] = "c:\\vz.apf";
inline constexpr int kLastFaxNumber = 99999;

// outputDir + "\FAX" + five digits + ".APF".
std::string FaxFileName(const std::string& outputDir, int number);
// The longest output directory whose fax names still fit 255 characters (242).
std::size_t LongestOutputDir();

// Creates `dir` with every missing parent; failures are ignored.
void ForceOutputDir(ControllerEnv& env, const std::string& dir);

// The smallest number with no FAXnnnnn.APF entry in outputDir, or 99999 when all
// are taken. A folder of that name takes the number as a file does: the driver
// could not write there. Reads the folder once instead of probing each name.
std::string ChooseFaxFileName(ControllerEnv& env, const std::string& outputDir);
// The same result by testing name after name from `first` on.
std::string ProbeFaxFileName(ControllerEnv& env, const std::string& outputDir, int first = 0);

// Takes the smallest free FAXnnnnn.APF in `folder` (with or without a trailing
// '\') for the caller alone, creating it empty: no document start hands it out
// afterwards. False, with the system's reason, when no name could be created.
bool ReserveFaxFileName(ControllerEnv& env, const std::string& folder, std::string& name,
                        std::string& reason);

// The next free fax image name in the configured output directory, which is
// created when missing.
std::string NextFaxFileName(ControllerEnv& env);

// The document-start answer: checks VZPD.INI (information boxes for what is
// wrong) and returns the fallback name when the file is missing or its output
// directory too long for a fax name to fit, else NextFaxFileName.
std::string GetOutputFileName(ControllerEnv& env);

// The job descriptor's name: the image name with its extension replaced by ".JFD".
std::string JobFileName(const std::string& faxFileName);

// The descriptor's bytes: three CR LF lines. A CR or LF inside a value becomes a
// blank so that the lines can never shift.
std::string JobFileText(const std::string& phone, const std::string& recipient,
                        const std::string& subject);

// Writes the descriptor under a temporary name beside it and renames it into
// place, so the main fax program never sees a half-written file. False on any
// failure, and then no temporary file is left behind; `reason` (when given) then
// receives the system's description of the failure.
bool WriteJobFile(ControllerEnv& env, const std::string& jobFileName, const std::string& phone,
                  const std::string& recipient, const std::string& subject,
                  std::string* reason = nullptr);

// A cancelled job: the image the driver rendered is deleted; the outcome is not checked.
void DeleteFaxFile(ControllerEnv& env, const std::string& faxFileName);

}  // namespace vz
