// tsconv: converts Vietnamese text between its formats, for scripts, pipes and folders.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "tsconv/messages.h"
#include "tsconv/options.h"
#include "tsconv/output_file.h"
#include "tsconv/repair_run.h"
#include "tsconv/run.h"

int main(int argc, char* argv[]) {
    using namespace toneshift::tsconv;
    // Before anything is opened: a closed standard stream must not be taken by a file.
    if (!secure_standard_descriptors()) {
        say(std::string("cannot open /dev/null: ") + std::strerror(errno));
        return kExitTrouble;
    }
    prepare_output_handling();
    const Command command = parse_command_line(argc, argv);
    std::string text;
    switch (command.action) {
        case Command::Action::kConvert:
            return run_conversion(command.options);
        case Command::Action::kDetect:
            return run_detection(command.options);
        case Command::Action::kRepair:
            return run_repair(command.options);
        case Command::Action::kUsageError:
            say(command.error);
            if (command.usage) say(usage_line());
            return kExitTrouble;
        case Command::Action::kHelp:
            text = help_text();
            break;
        case Command::Action::kVersion:
            text = version_text();
            break;
        case Command::Action::kList:
            text = format_list();
            break;
    }
    if (std::fputs(text.c_str(), stdout) < 0 || std::fflush(stdout) != 0) {
        say("cannot write (standard output)");
        return kExitTrouble;
    }
    return kExitDone;
}
