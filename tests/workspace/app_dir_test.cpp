#include "workspace/app_dir.h"

#include <gtest/gtest.h>

using quill::appDirFromModulePath;

TEST(AppDir, WindowsPathsEndInExactlyOneBackslash) {
    EXPECT_EQ(appDirFromModulePath(R"(C:\Apps\Tool\setup.exe)", '\\'), R"(C:\Apps\Tool\)");
    EXPECT_EQ(appDirFromModulePath(R"(C:\program.exe)", '\\'), R"(C:\)");
    EXPECT_EQ(appDirFromModulePath(R"(\\server\share\folder\final_inst.exe)", '\\'), R"(\\server\share\folder\)");
    EXPECT_EQ(appDirFromModulePath(R"(C:program.exe)", '\\'), R"(C:\)");
}

TEST(AppDir, PosixPathsUseTheNativeSeparator) {
    EXPECT_EQ(appDirFromModulePath("/opt/app/final_inst", '/'), "/opt/app/");
    EXPECT_EQ(appDirFromModulePath("/final_inst", '/'), "/");
    // A colon is an ordinary character in a POSIX name.
    EXPECT_EQ(appDirFromModulePath("/opt/a:b/final_inst", '/'), "/opt/a:b/");
}
