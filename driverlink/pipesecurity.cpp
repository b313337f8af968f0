#include "driverlink/pipesecurity.hpp"

namespace vz::driverlink {
std::string PipeSecurityText(const std::string& userSid) {
  // D:P is a protected list (nothing inherited); NU network logons, SY the
  // system, BA the administrators; FA all access to a file, which a pipe is. Deny entries come first, as
  // the system checks entries in their order.
  return "D:P(D;;FA;;;NU)(A;;FA;;;SY)(A;;FA;;;BA)(A;;FA;;;" + userSid + ")";
}

}  // namespace vz::driverlink
