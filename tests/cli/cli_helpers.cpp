#include "cli/cli_helpers.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarnhold::test {

namespace {

std::string Slurp(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

TCliResult RunCli(const std::vector<std::string>& args) {
    TCliResult result;
    char outName[] = "/tmp/trh-cli-outXXXXXX";
    char errName[] = "/tmp/trh-cli-errXXXXXX";
    int outFd = ::mkstemp(outName);
    int errFd = ::mkstemp(errName);
    if (outFd < 0 || errFd < 0)
        return result;

    std::vector<std::string> argv = {TARNHOLD_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    pid_t pid = 0;
    int rc = ::posix_spawn(&pid, cargv[0], &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outFd);
    ::close(errFd);
    if (rc == 0) {
        int status = 0;
        if (::waitpid(pid, &status, 0) == pid && WIFEXITED(status))
            result.ExitCode = WEXITSTATUS(status);
    }
    result.Out = Slurp(outName);
    result.Err = Slurp(errName);
    ::unlink(outName);
    ::unlink(errName);
    return result;
}

} // namespace tarnhold::test
