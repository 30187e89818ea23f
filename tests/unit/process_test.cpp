#include "platform/process.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "platform/system_error.h"
#include "platform/files.h"

namespace lumivane::platform {
namespace {

TEST(ProcessTest, ExecutableFolderAndArgumentsAsTheirBytes) {
  const std::string folder = ExecutableFolder();
  EXPECT_TRUE(FileExists(folder + "/process_test")) << folder;
  EXPECT_FALSE(folder.ends_with('/'));

  char program[] = "Module_Lumivane";
  char exchange[] = "/tmp/Devis été/échange 1.xml";
  char latin1[] = "config\xE9\xFF.ini";  // not UTF-8: passed on unchanged
  char* argv[] = {program, exchange, latin1, nullptr};
  EXPECT_EQ(CommandLineArguments(3, argv), (std::vector<std::string>{exchange, latin1}));
  EXPECT_TRUE(CommandLineArguments(1, argv).empty());
}

TEST(SystemErrorTextTest, FrenchTextWithTheCode) {
  EXPECT_EQ(SystemErrorText(ENOSPC), "plus d'espace libre sur le disque (code 28)");
  EXPECT_TRUE(SystemErrorText(9999).starts_with("erreur système 9999")) << SystemErrorText(9999);
}

}  // namespace
}  // namespace lumivane::platform
