#pragma once
// Who may open \\.\pipe\ApFaxCnv. The fax printer driver runs either in the
// spooler (the system account) or in the printing user's own process; nobody
// else has any business on the pipe, and nobody at all over the network.
#include <string>

namespace vz::driverlink {

// The pipe's security descriptor in the system's descriptor language: a
// protected access list that first denies network logons, then gives full
// access to the system, the administrators and `userSid` ("S-1-5-21-...").
std::string PipeSecurityText(const std::string& userSid);

}  // namespace vz::driverlink
