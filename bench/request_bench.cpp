// Figures for the request path: the script run, the reply conversion, and a whole request
// answered over loopback.

#include "process/ResultText.h"
#include "process/RunProcess.h"
#include "service/websocket_server.h"
#include "support/temp_folder.h"
#include "support/ws_client.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <thread>

namespace {

const std::u16string kUserListScript =
    u"ProcessEntity-1{FunctionType[401]TrueNext[0]FalseNext[0]}ProcessCallBackName{_1}ProcessNum{3}";

class FixedControl : public SecurityControl {
public:
    std::u16string GetUselistX() override { return u"alice\n张伟\n李娜\nbob.smith\n"; }
};

void RunUserListScript(benchmark::State& state) {
    FixedControl control;
    for (auto _ : state) {
        std::u16string result;
        RunProcess(kUserListScript, result, control);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(RunUserListScript);

void ConvertResultToUtf8(benchmark::State& state) {
    std::u16string result(static_cast<std::size_t>(state.range(0)), u'张');
    for (auto _ : state)
        benchmark::DoNotOptimize(ResultToUtf8(result));
    state.SetBytesProcessed(state.iterations() * state.range(0) * 2);
}
BENCHMARK(ConvertResultToUtf8)->Arg(32)->Arg(4096);

// One request and its reply over loopback; the service logs two lines per request into a
// temporary folder.
void AnswerRequestOverLoopback(benchmark::State& state) {
    TempFolder folder;
    setenv("TMPDIR", folder.path().c_str(), 1);
    websocket_server service(0);
    std::thread thread([&] { service.start(); });
    service.wait_until_serving(std::chrono::seconds(10));
    {
        WsClient client("ws://127.0.0.1:" + std::to_string(service.listening_port()));
        client.wait_open();
        for (auto _ : state) {
            client.send("ProcessNum{1}");
            benchmark::DoNotOptimize(client.receive());
        }
    }
    service.shut_down();
    thread.join();
}
BENCHMARK(AnswerRequestOverLoopback)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
