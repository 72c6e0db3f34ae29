#include "workspace/app/app_dir.h"

#include "support/error_of.h"
#include "support/system.h"

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

// The program creates temp/ and data/ in its folder and unpacks updates over it,
// so a folder it cannot be sure of is refused before any window shows.
TEST(ApplicationFolder, IsTheProgramFilesFolderButNeverTheRoot) {
    using quill::applicationFolder;
    using quill::testing::errorOf;
    using quill::testing::kOnWindows;
    // Absolute as each system writes it: a drive and a backslash on Windows.
    const std::string top = kOnWindows ? R"(C:\)" : "/";
    const char sep = kOnWindows ? '\\' : '/';
    EXPECT_EQ(applicationFolder(top + "opt" + sep + "app" + sep + "final_inst"), top + "opt" + sep + "app" + sep);
    const std::string unknown =
        "The path of this program's file cannot be read, so its application folder is unknown. "
        "The setup cannot be finished.";
    EXPECT_EQ(errorOf([] { applicationFolder(""); }), unknown);
    EXPECT_EQ(errorOf([] { applicationFolder("final_inst"); }), unknown);
    const std::string root =
        "This program's file lies in the root folder \"" + top + "\", which is no application folder. "
        "The setup cannot be finished.";
    const std::string dot = std::string(".") + sep;
    const std::string up = std::string("opt") + sep + ".." + sep;
    for (const std::string& path : {top + "final_inst", top + dot + "final_inst", top + up + "final_inst"})
        EXPECT_EQ(errorOf([&] { applicationFolder(path); }), root) << path;
    if (!kOnWindows) EXPECT_EQ(errorOf([] { applicationFolder("//final_inst"); }), root);
}
