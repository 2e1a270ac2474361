#include "tests/support/TestAuthority.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/support/ChildProgram.h"

namespace toval::test {

TestAuthority::TestAuthority(const std::string& dir) : Dir(dir) {
    std::error_code ignored;
    std::filesystem::create_directories(Dir, ignored);
    const std::string curve = "ec_paramgen_curve:prime256v1";
    std::ofstream(Dir + "/server.ext")
        << "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    const std::vector<std::vector<std::string>> steps = {
        {"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", curve, "-nodes", "-subj",
         "/CN=Toval Test Authority", "-days", "2", "-keyout", Dir + "/ca.key", "-out",
         Dir + "/ca.pem"},
        {"openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", curve, "-nodes", "-subj",
         "/CN=127.0.0.1", "-keyout", Dir + "/server.key", "-out", Dir + "/server.csr"},
        {"openssl", "x509", "-req", "-in", Dir + "/server.csr", "-CA", Dir + "/ca.pem", "-CAkey",
         Dir + "/ca.key", "-CAcreateserial", "-days", "2", "-extfile", Dir + "/server.ext", "-out",
         Dir + "/server.pem"},
    };
    for (const auto& step : steps) {
        const ProgramRun run = RunProgram(step);
        if (run.Status != 0) {
            Reason = step[1] + ": " + run.Err;
            return;
        }
    }
    IsMade = true;
}

}  // namespace toval::test
