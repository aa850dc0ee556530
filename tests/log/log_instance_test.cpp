#include "log/CLogger.h"

#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

// Alone in its program: no other test may create the instance first.
TEST(LogInstance, CreatedOnceWithItsFileInTemporaryDirectory) {
    TempFolder folder;
    ASSERT_EQ(setenv("TMPDIR", folder.path().c_str(), 1), 0);

    CLogger* const logger = CLogger::GetInstance();
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(CLogger::GetInstance(), logger);
    EXPECT_EQ(logger->path().rfind(folder.path() + "Quillgatelog_", 0), 0u) << logger->path();
    EXPECT_TRUE(std::filesystem::exists(logger->path()));
}

} // namespace
