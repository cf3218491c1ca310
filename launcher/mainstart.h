#ifndef MAINSTART_H
#define MAINSTART_H

// The launcher's one-time start sequence. Main thread, before the event loop.
class MainStart
{
public:
    MainStart();
    ~MainStart();

    void start();
};

#endif // MAINSTART_H
