#include "app/CommandLine.h"
#include "app/Vorn_Quillgate.h"

int main(int argc, char* argv[]) {
    if (argc > 1)
        return RunCommandLineOption(argv[1]);
    CVorn_QuillgateApp app;
    app.InitInstance();
    return 0;
}
