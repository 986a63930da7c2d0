#include "asyncfunc.h"

ASyncFunc::ASyncFunc() : QObject(nullptr) { }

void ASyncFunc::execute()
{
    const bool res = run();
    emit runResult(res);
}
