#include "asyncrun.h"

#include "asyncfunc.h"

#include <QThread>

ASyncRun::ASyncRun(ASyncFunc *function, std::shared_ptr<const std::atomic_bool> abandoned)
    : function(function), abandoned(std::move(abandoned))
{
    setAutoDelete(true);
}

ASyncRun::~ASyncRun()
{
    delete function;
}

void ASyncRun::run()
{
    if (abandoned && abandoned->load())
        return;
    // The task handed the function over without a thread; it belongs to this
    // worker while it runs, so that anything it creates lives here too.
    function->moveToThread(QThread::currentThread());
    function->execute();
}
