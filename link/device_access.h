// Who may use a serial device, for the advice given when it cannot be opened
// for lack of permission: a user joins the group that owns the device only
// when that group may read and write it (on Debian "dialout"); otherwise the
// device belongs to someone else and the advice says whose it is.
#pragma once

#include <string>

namespace kestrel {

struct DeviceOwnership {
  bool Known = false;  // false: the device could not be looked at
  std::string User;    // owner's name (or number)
  std::string Group;   // group's name (or number)
  bool GroupIsRoot = false;
  unsigned Mode = 0;  // permission bits, e.g. 0660
};

// stat() of the device with the names of its owner and group.
DeviceOwnership DeviceOwnershipOf(const std::string& device);

// The group a user joins to use the device: the owning group when it may read
// and write the device and is not root's; "" when joining a group does not
// help.
std::string GroupToJoin(const DeviceOwnership& owner);

// "crw-rw----" style text of the permission bits of a character device.
std::string ModeText(unsigned mode);

// The advice for a device that refused the user, in English (the port's
// error text) and in Russian (code page 1251, the status line's hint). Both
// name the group to join, or say who owns the device.
std::string PermissionAdvice(const DeviceOwnership& owner);
std::string PermissionAdviceRu(const DeviceOwnership& owner);

}  // namespace kestrel
