// Starting a helper program (the simulated receiver, ser2net) from a benchmark.
#pragma once

#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

// Runs args[0] (a path) with the arguments that follow as a child process;
// with `firstLine`, reads the first line the child prints on stdout into it.
// The child's pid, or -1 when no pipe could be made.
inline pid_t StartChild(std::vector<std::string> args, std::string* firstLine)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return -1;
    const pid_t pid = fork();
    if (pid == 0)
    {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    char c;
    while (firstLine != nullptr && read(pipeFds[0], &c, 1) == 1 && c != '\n')
        *firstLine += c;
    close(pipeFds[0]);
    return pid;
}
