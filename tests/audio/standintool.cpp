// A stand-in for the noise-suppression program, for the tests. It takes the
// same command line plus "--mode M" and behaves as M says; every run writes
// its arguments, one a line, to OUTPUT.args.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

void say(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    // Keeps separate writes in separate reads on the other side.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

bool copyFile(const std::string& from, const std::string& to)
{
    std::ifstream in(from, std::ios::binary);
    if (!in)
        return false;
    std::ofstream out(to, std::ios::binary);
    std::copy(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>(), std::ostreambuf_iterator<char>(out));
    return bool(out);
}

} // namespace

int main(int argc, char** argv)
{
    std::string input, output, mode = "ready";
    std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "-input")
            input = args[i + 1];
        else if (args[i] == "-output")
            output = args[i + 1];
        else if (args[i] == "--mode")
            mode = args[i + 1];
    }
    std::ofstream record(output + ".args");
    for (const std::string& a : args)
        record << a << "\n";
    record.close();

    if (mode == "exit3") {
        std::fputs("stand-in failed on purpose\n", stderr);
        return 3;
    }
    say("   3_of_10\n");
    if (mode == "crash")
        std::abort();
    if (mode == "hang-working") {
        // At work for an hour, with a temporary file of its own.
        std::ofstream(output + ".part") << "partial";
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
    if (!copyFile(input, output)) {
        std::fputs("cannot copy\n", stderr);
        return 1;
    }
    if (mode == "ready-with-text") {
        say("File Ready\n10_of_10\n");
        return 0;
    }
    if (mode == "ready-hang-together") {
        say("9_of_10\nFile Ready\nstill here\n");
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
    if (mode == "ready-in-pieces") {
        say("File Re");
        say("ady\n");
        return 0;
    }
    say("File Ready\n");
    if (mode == "ready-hang") {
        say("still here\n");
        std::this_thread::sleep_for(std::chrono::hours(1));
    }
    return 0;
}
