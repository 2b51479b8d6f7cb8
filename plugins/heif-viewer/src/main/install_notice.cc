#include "main/install_notice.h"

namespace brindle::heif {

std::string install_notice(std::string_view reason) {
  std::string text = "HEIC / HEIF preview is not available on this system.\n\n";
  text += reason;
  text +=
      ".\n"
      "\n"
      "Brindle decodes HEIC through the system libheif library and its\n"
      "HEVC codec (libde265); nothing is bundled, so install them with your\n"
      "package manager and open the file again:\n"
      "\n"
      "Fedora:         sudo dnf install libheif libheif-freeworld  (RPM Fusion)\n"
      "Debian/Ubuntu:  sudo apt install libheif1 libheif-plugin-libde265\n"
      "Arch:           sudo pacman -S libheif libde265\n"
      "openSUSE:       sudo zypper install libheif1 libheif-plugin-libde265  (Packman)\n";
  return text;
}

}  // namespace brindle::heif
