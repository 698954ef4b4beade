#include "link/device_access.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <vector>

#include "common/cp1251.h"

namespace kestrel {

using namespace cp1251_literals;

namespace {

std::string UserName(uid_t uid) {
  std::vector<char> buffer(4096);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->pw_name;
  }
  return std::to_string(uid);
}

std::string GroupName(gid_t gid) {
  std::vector<char> buffer(4096);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
    return found->gr_name;
  }
  return std::to_string(gid);
}

}  // namespace

DeviceOwnership DeviceOwnershipOf(const std::string& device) {
  DeviceOwnership owner;
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) return owner;
  owner.Known = true;
  owner.User = UserName(st.st_uid);
  owner.Group = GroupName(st.st_gid);
  owner.GroupIsRoot = st.st_gid == 0;
  owner.Mode = st.st_mode & 07777;
  return owner;
}

std::string GroupToJoin(const DeviceOwnership& owner) {
  constexpr unsigned kGroupReadWrite = 060;
  if (!owner.Known || owner.GroupIsRoot) return {};
  if ((owner.Mode & kGroupReadWrite) != kGroupReadWrite) return {};
  return owner.Group;
}

std::string ModeText(unsigned mode) {
  std::string text = "c";
  const char* letters = "rwx";
  for (int bit = 8; bit >= 0; --bit) text += (mode >> bit) & 1u ? letters[(8 - bit) % 3] : '-';
  return text;
}

std::string PermissionAdvice(const DeviceOwnership& owner) {
  if (!owner.Known) return {};
  const std::string group = GroupToJoin(owner);
  if (!group.empty()) {
    return "add the user to the '" + group + "' group (usermod -aG " + group +
           " USER) and log in again";
  }
  return "the device belongs to user '" + owner.User + "', group '" + owner.Group + "' (" +
         ModeText(owner.Mode) + "): ask its owner or the administrator for access";
}

std::string PermissionAdviceRu(const DeviceOwnership& owner) {
  if (!owner.Known) return {};
  const std::string group = GroupToJoin(owner);
  if (!group.empty()) {
    const std::string name = cp1251::FromUtf8(group);
    return "нет доступа к устройству: добавьте пользователя в группу "_cp + name +
           " (sudo usermod -aG " + name + " $USER) и войдите в систему заново"_cp;
  }
  return "нет доступа к устройству: оно принадлежит пользователю "_cp +
         cp1251::FromUtf8(owner.User) + " и группе "_cp + cp1251::FromUtf8(owner.Group) + " (" +
         ModeText(owner.Mode) + "), доступ к нему может дать его владелец или администратор"_cp;
}

}  // namespace kestrel
