#include "analyser_process.h"

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include "harness_runner.h"

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

AnalyserResult runAnalyser(const std::vector<std::string>& arguments)
{
    TemporaryFolder scratch;
    const std::string out = scratch.path() + "/stdout";
    const std::string err = scratch.path() + "/stderr";
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(LOOPCHECK_ANALYSE));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    AnalyserResult result;
    const pid_t child = fork();
    if (child == 0) {
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int in = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0 || in < 0) _exit(126);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        execv(LOOPCHECK_ANALYSE, argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = readFile(out);
    result.err = readFile(err);
    return result;
}
