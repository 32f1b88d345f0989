#pragma once
// The update server of the test run (tests/server/update_server.py, started by ctest
// before the programs that need it). It serves drive D:, so a file written to
// D:\unit\x\Ver3.5 is at ServerUrl("unit/x/Ver3.5").
#include <cstdlib>
#include <sstream>
#include <string>

#include "Format.h"
#include "TestSupport.h"

struct CTestServer {
    int port = 0;
    int closedPort = 0;  // bound, never listening: connections are refused
    int probePort = 0;   // records whether a client spoke TLS or plain HTTP there
};

inline const CTestServer& TestServer() {
    static CTestServer server = [] {
        CTestServer read;
        std::istringstream lines(ReadBytes(BuildFolder() + "update_server.txt"));
        std::string line;
        while (std::getline(lines, line)) {
            size_t equals = line.find('=');
            if (equals == std::string::npos)
                continue;
            std::string key = line.substr(0, equals);
            int value = std::atoi(line.c_str() + equals + 1);
            if (key == "port")
                read.port = value;
            else if (key == "closed_port")
                read.closedPort = value;
            else if (key == "probe_port")
                read.probePort = value;
        }
        return read;
    }();
    return server;
}

inline std::string ServerUrl(const std::string& path) {
    return StrFormat("http://127.0.0.1:%d/%s", TestServer().port, path.c_str());
}
