// Where `carvix register` looks for the module: installed beside the client first, then the
// module of the build tree, both found from the client's own folder.
#include "module_location.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;
using carvix::cli::FirstExisting;

namespace {

class ModuleLocationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern =
            (fs::temp_directory_path() / "carvix-module-location-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        fs::create_directories(root_ / "usr" / "bin");
    }
    void TearDown() override { fs::remove_all(root_); }
    void Touch(const fs::path& relative) {
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative) << "x";
    }
    fs::path root_;
};

TEST_F(ModuleLocationTest, PrefersTheInstalledModuleAndNormalisesThePath) {
    Touch("usr/lib/x86_64-linux-gnu/carvix-qx/carvix-qx.so");
    Touch("src/com/carvix-qx.so");
    const fs::path found = FirstExisting(
        root_ / "usr" / "bin",
        {"../lib/x86_64-linux-gnu/carvix-qx/carvix-qx.so", "../../src/com/carvix-qx.so"});
    EXPECT_EQ(found, root_ / "usr/lib/x86_64-linux-gnu/carvix-qx/carvix-qx.so");
    EXPECT_EQ(found.string().find(".."), std::string::npos);
}

TEST_F(ModuleLocationTest, FallsBackToTheBuildTreeModule) {
    Touch("build/src/com/carvix-qx.so");
    fs::create_directories(root_ / "build/tools/carvix");
    EXPECT_EQ(FirstExisting(root_ / "build/tools/carvix",
                            {"../../lib/x86_64-linux-gnu/carvix-qx/carvix-qx.so",
                             "../../src/com/carvix-qx.so"}),
              root_ / "build/src/com/carvix-qx.so");
}

TEST_F(ModuleLocationTest, NamesTheInstalledPlaceWhenNeitherExists) {
    // A folder of that name is not a module.
    fs::create_directories(root_ / "usr/lib/carvix-qx/carvix-qx.so");
    EXPECT_EQ(FirstExisting(root_ / "usr/bin",
                            {"../lib/carvix-qx/carvix-qx.so", "../../src/com/carvix-qx.so"}),
              root_ / "usr/lib/carvix-qx/carvix-qx.so");
}

TEST(DefaultModulePath, IsAbsoluteAndEndsInTheModuleName) {
    const fs::path path = carvix::cli::DefaultModulePath();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_EQ(path.filename(), "carvix-qx.so");
}

}  // namespace
