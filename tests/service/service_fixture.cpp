#include "service_fixture.h"

#include "control/CDTarskCtrlControl.h"
#include "log/CLogger.h"
#include "support/temp_folder.h"

#include <cstdlib>
#include <fstream>
#include <regex>

namespace {

// One log folder and one user list for the whole program; the control is the sample module.
class ServiceEnvironment : public testing::Environment {
public:
    void SetUp() override {
        setenv("TMPDIR", folder_.path().c_str(), 1);
        std::string user_list = folder_.path() + "users.txt";
        std::ofstream(user_list, std::ios::binary) << kUserList;
        setenv("QUILLGATE_SAMPLE_USERLIST", user_list.c_str(), 1);
        ASSERT_TRUE(TheSecurityControl().CreateFromModule(SAMPLE_CONTROL_MODULE));
    }

private:
    TempFolder folder_;
};

const auto* const environment = testing::AddGlobalTestEnvironment(new ServiceEnvironment);

} // namespace

std::string service_log_path() {
    return CLogger::GetInstance()->path();
}

std::vector<std::string> error_messages(const LogLines& log) {
    static const std::regex prefix(R"(^\d\d:\d\d:\d\d\|\d+\| Error: )");
    std::vector<std::string> messages;
    for (const std::string& line : log.since_mark()) {
        std::smatch match;
        bool prefixed = std::regex_search(line, match, prefix);
        EXPECT_TRUE(prefixed) << line;
        messages.push_back(prefixed ? match.suffix().str() : line);
    }
    return messages;
}
