// The Firebird client takes SIGINT and SIGTERM at its first attachment and
// cuts its attachments off on them; the program must keep both the signals
// and an open catalogue, so it can close it when it ends.
#include "catalogue/firebird_connection.h"

#include "platform/termination_signals.h"
#include "support/temp_folder.h"
#include "vendorkit/catalogue_builder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace quill;
using quill::testing::TempFolder;

// First in this file: the engine must not have started in this process yet.
TEST(EngineStart, LeavesTheProgramItsTerminationSignals) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (platform::watchTerminationSignals() < 0) ::_exit(2);
        struct sigaction ours {};
        ::sigaction(SIGTERM, nullptr, &ours);
        { EngineStart engine; }
        for (const int signal : {SIGTERM, SIGINT}) {
            struct sigaction now {};
            ::sigaction(signal, nullptr, &now);
            if (now.sa_handler != ours.sa_handler) ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: the client kept a signal; 2: no signal watch";
}

TEST(FirstAttachment, LeavesTheProgramItsTerminationSignalsAndTheConnection) {
    TempFolder folder;
    const std::string path = folder / "cat.fdb";
    // Made by a child, so that the attachment below is this process's first.
    const pid_t child = ::fork();
    if (child == 0) {
        vendorkit::createCatalogueDatabase(path, {vendorkit::sampleTemplate(1, "Contacts", "Business")});
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    ASSERT_GE(platform::watchTerminationSignals(), 0);
    struct sigaction ours {};
    ::sigaction(SIGTERM, nullptr, &ours);
    FirebirdConnection connection;
    connection.params = {"Database=" + path, "user_name=SYSDBA", "password=quietbird"};
    EXPECT_EQ(connection.fetchAll("SELECT COUNT(*) FROM TEMPLATES").rowCount(), 1u);
    // The client's own handler would shut its attachments down, soon after.
    for (const int signal : {SIGTERM, SIGINT}) {
        struct sigaction now {};
        ::sigaction(signal, nullptr, &now);
        EXPECT_EQ(now.sa_handler, ours.sa_handler) << "signal " << signal;
    }

    ::raise(SIGTERM);
    EXPECT_EQ(platform::takeTerminationSignal(), SIGTERM);
    EXPECT_EQ(connection.fetchAll("SELECT COUNT(*) FROM TEMPLATES").rowCount(), 1u);
    EXPECT_NO_THROW(connection.close());
}
