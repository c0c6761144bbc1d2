// A backend on 127.0.0.1 for upload benchmarks: the test backend in its discarding mode, with
// 16 MiB parts and one signed-in account with ample storage. Prints its base URL, the account's
// session token and a presigned PUT URL of its object store (for a baseline client), one a
// line, then runs until its standard input closes.

#include <cstdio>

#include <Support/TestBackend/TestBackend.h>
#include <Support/TestObjectStore.h>

using namespace Pellwick;

int main()
{
    Test::TestBackend::Options options;
    options.partSizeBytes = qint64(16) * 1024 * 1024;
    options.discardUploads = true;
    Test::TestBackend backend(options);
    Test::TestBackend::Account account;
    account.email = QStringLiteral("bench@example.test");
    account.password = QStringLiteral("bench");
    account.library.paidPlan.status = PaidPlanStatus::Paid;
    account.library.paidPlan.storageEntitlement = {0, qint64(1) << 50};
    backend.addAccount(account);
    std::printf(
        "%s\n%s\n%s\n",
        qPrintable(backend.baseURL().toString()),
        qPrintable(backend.issueToken(account.email)),
        qPrintable(backend.objectStore().presignedPutURL(QStringLiteral("bench/baseline"))));
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}
