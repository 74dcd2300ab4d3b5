window.MswBooted = true;
