#include "support/windowfixture.h"

#include "app/globals.h"
#include "support/fakereplies.h"
#include "support/testenv.h"

std::unique_ptr<FakeHttpServer> startFakeProvider()
{
    auto server = std::make_unique<FakeHttpServer>();
    if (!server->listen())
        return nullptr;
    server->setDefaultResponse(rawReply("{}"));
    g_apiBaseUrl = server->baseUrl();
    g_webBaseUrl = server->baseUrl();
    return server;
}

std::unique_ptr<FakeCommand> runningServiceTool()
{
    auto sc = std::make_unique<FakeCommand>(QStringLiteral("sc"));
    sc->setServiceState("RUNNING");
    return sc;
}

platform::Overrides serviceOverrides(const FakeCommand &sc)
{
    platform::Overrides overrides;
    overrides.serviceControlProgram = sc.program();
    overrides.serviceLogPath = testHomePath() + QStringLiteral("/service-logs");
    overrides.commandWaitMs = 3000;
    return overrides;
}
