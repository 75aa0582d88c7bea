// vardel-cli-core's command line: arguments separated by NUL bytes, any bytes at all. Parsing
// never fails hard, and every argument that reaches a command keeps its bytes.
#include "cli/command_line.h"
#include "hw/file_names.h"

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> words{"vardel-cli"};
    std::string word;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    words.push_back(word);
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    const QStringList arguments =
        vardel::ArgumentsFromArgv(static_cast<int>(argv.size()), argv.data());
    for (qsizetype i = 0; i < arguments.size(); ++i)
        if (vardel::FileNameFromQString(arguments[i]) != words[static_cast<std::size_t>(i)])
            __builtin_trap();
    static vardel::cli::CommandLineParser parser;
    const vardel::cli::CommandLine line = parser.parse(arguments);
    if (line.error.isEmpty() && !line.help && !line.version && line.listWords.isEmpty()) {
        // The command and its arguments are the last words, in order.
        if (static_cast<std::size_t>(line.args.size()) + 1 > words.size())
            __builtin_trap();
        const std::size_t first = words.size() - static_cast<std::size_t>(line.args.size());
        for (qsizetype i = 0; i < line.args.size(); ++i)
            if (vardel::FileNameFromQString(line.args[i]) !=
                words[first + static_cast<std::size_t>(i)])
                __builtin_trap();
    }
    return 0;
}
