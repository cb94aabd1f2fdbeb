#include "status_allowed.h"

#include <ctype.h>

namespace kfault {

bool IsOutOfMemoryText(const std::string &status) {
  const std::string head = "Insufficient memory (case ";
  if (status.compare(0, head.size(), head) != 0 || status.back() != ')')
    return false;
  const std::string number =
      status.substr(head.size(), status.size() - head.size() - 1);
  if (number.empty()) return false;
  for (char c : number)
    if (!isdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

bool JpegStatusAllowed(const std::string &status, const std::string &before,
                       const std::string &path) {
  return status == before || status.empty() ||
         status == "Can't open file\"" + path + "\"" ||
         status == "Output file write error --- out of disk space?" ||
         IsOutOfMemoryText(status);
}

}  // namespace kfault
