// dorvik-midi-media: every command of dorvik-midi. The small dorvik-midi answers info, --help and
// --version itself and hands every other command line to this program.
#include "cli/commands.h"
#include "cli/dispatch.h"

namespace {

using cli::Command;

constexpr Command kCommands[] = {
    {"info", cli::RunInfo},         {"render", cli::RunRender}, {"play", cli::RunPlayCommand},
    {"export", cli::RunExport},     {"video", cli::RunVideo},   {"batch", cli::RunBatch},
    {"ports", cli::RunPorts},       {"record", cli::RunRecord}, {"score", cli::RunScore},
    {"progress", cli::RunProgress},
};

}  // namespace

int main(int argc, char** argv) {
    return cli::Dispatch(argc, argv, kCommands, nullptr);
}
