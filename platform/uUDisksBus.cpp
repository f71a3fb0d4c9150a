#include "platform/uUDisksBus.h"

#include "ntfs/uFSError.h"

#include <systemd/sd-bus.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include <fcntl.h>

namespace {

constexpr char kService[] = "org.freedesktop.UDisks2";
constexpr char kManagerPath[] = "/org/freedesktop/UDisks2/Manager";
constexpr char kManagerInterface[] = "org.freedesktop.UDisks2.Manager";
constexpr char kBlockInterface[] = "org.freedesktop.UDisks2.Block";
// Long enough for the user to type a password into polkit's prompt.
constexpr std::uint64_t kAnswerTimeout = 5ull * 60 * 1000 * 1000;

struct TBusUnref {
  void operator()(sd_bus* ABus) const { sd_bus_flush_close_unref(ABus); }
};
struct TMessageUnref {
  void operator()(sd_bus_message* AMessage) const { sd_bus_message_unref(AMessage); }
};
using TBus = std::unique_ptr<sd_bus, TBusUnref>;
using TMessage = std::unique_ptr<sd_bus_message, TMessageUnref>;

// Frees the error's texts when the call is over.
struct TBusError {
  sd_bus_error Error = SD_BUS_ERROR_NULL;
  TBusError() = default;
  TBusError(const TBusError&) = delete;
  TBusError& operator=(const TBusError&) = delete;
  ~TBusError() { sd_bus_error_free(&Error); }
};

// polkit's answers: refused outright, or the password prompt dismissed.
constexpr char kNotAuthorized[] = "org.freedesktop.UDisks2.Error.NotAuthorized";
constexpr char kWaysOut[] = "run Tarnwick as root, or join the \"disk\" group and log in again.";

[[noreturn]] void Refused(const std::string& ADevice, const std::string& AWhy, const std::string& AErrorName = {}) {
  throw NoDriveException(UDisksRefusal(ADevice, AErrorName, AWhy));
}

// Sends ACall and gives the answer; a D-Bus error ends the opening.
TMessage Call(sd_bus* ABus, sd_bus_message* ACall, const std::string& ADevice) {
  TBusError error;
  sd_bus_message* answer = nullptr;
  const int result = sd_bus_call(ABus, ACall, kAnswerTimeout, &error.Error, &answer);
  if (result < 0)
    Refused(ADevice,
            error.Error.message != nullptr ? error.Error.message
            : error.Error.name != nullptr  ? error.Error.name
                                           : std::string(std::strerror(-result)),
            error.Error.name != nullptr ? error.Error.name : "");
  return TMessage(answer);
}

TMessage NewCall(sd_bus* ABus, const char* APath, const char* AInterface, const char* AMethod,
                 const std::string& ADevice) {
  sd_bus_message* call = nullptr;
  if (sd_bus_message_new_method_call(ABus, &call, kService, APath, AInterface, AMethod) < 0)
    Refused(ADevice, "the call could not be made");
  // polkit may ask for the password instead of refusing at once.
  sd_bus_message_set_allow_interactive_authorization(call, 1);
  return TMessage(call);
}

} // namespace

std::string UDisksRefusal(const std::string& ADevice, const std::string& AErrorName, const std::string& AWhy) {
  if (AErrorName.starts_with(kNotAuthorized))
    return "Authentication to read \"" + ADevice + "\" was refused or cancelled (" + AWhy +
           "): give the administrator's password when asked, " + kWaysOut;
  return "udisks2 did not open \"" + ADevice + "\" (" + AWhy + "): " + kWaysOut;
}

IVolumeSourcePtr OpenThroughUDisksBus(const std::string& ADevice) {
  sd_bus* opened = nullptr;
  if (sd_bus_open_system(&opened) < 0)
    Refused(ADevice, "the system bus is not reachable");
  const TBus bus(opened);

  // ResolveDevice({"path": ADevice}, {}) answers with an array of object paths.
  const TMessage resolve = NewCall(bus.get(), kManagerPath, kManagerInterface, "ResolveDevice", ADevice);
  if (sd_bus_message_append(resolve.get(), "a{sv}", 1, "path", "s", ADevice.c_str()) < 0 ||
      sd_bus_message_append(resolve.get(), "a{sv}", 0) < 0)
    Refused(ADevice, "the call could not be made");
  const TMessage resolved = Call(bus.get(), resolve.get(), ADevice);
  const char* block = nullptr;
  if (sd_bus_message_enter_container(resolved.get(), 'a', "o") < 0 ||
      sd_bus_message_read(resolved.get(), "o", &block) <= 0)
    Refused(ADevice, "udisks2 does not know the device");
  const std::string blockPath = block;

  const TMessage open = NewCall(bus.get(), blockPath.c_str(), kBlockInterface, "OpenDevice", ADevice);
  if (sd_bus_message_append(open.get(), "s", "r") < 0 || sd_bus_message_append(open.get(), "a{sv}", 0) < 0)
    Refused(ADevice, "the call could not be made");
  const TMessage answer = Call(bus.get(), open.get(), ADevice);
  int descriptor = -1;
  // The answer owns its descriptor and closes it with the message.
  if (sd_bus_message_read(answer.get(), "h", &descriptor) <= 0 || descriptor < 0)
    Refused(ADevice, "no descriptor came back");
  const int handle = fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (handle < 0)
    Refused(ADevice, "no descriptor came back");
  return TFileSource::Adopt(handle, ADevice);
}

bool InDesktopSession() {
  const char* type = std::getenv("XDG_SESSION_TYPE");
  return type != nullptr && (std::string_view(type) == "x11" || std::string_view(type) == "wayland");
}
