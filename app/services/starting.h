#pragma once
// The services' part of start-up, run while the browser engine starts and before the page
// asks for anything: the app data folder is made (so the page's first vault read finds it
// ready) and the copy an earlier update left behind is removed in the background.
void services_starting(void);
