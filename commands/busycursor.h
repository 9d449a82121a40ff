#ifndef BUSYCURSOR_H
#define BUSYCURSOR_H

namespace veltrano {

// Shows the wait cursor over the application for as long as the object
// lives: commands run on the GUI thread, so the window cannot tell the user
// otherwise that it is working. Does nothing without a GUI application.
class BusyCursor
{
public:
    BusyCursor();
    ~BusyCursor();
    BusyCursor(const BusyCursor &) = delete;
    BusyCursor &operator=(const BusyCursor &) = delete;

private:
    bool active;
};

} // namespace veltrano

#endif // BUSYCURSOR_H
