#include "FoundDevices.h"

namespace search {

std::vector<TVortan_Device> VortanDevices;
std::vector<TOther_Device> OtherDevices;

}  // namespace search
