// The page's first script: tells the benchmark when page scripts start running.
if (window.msw_mark) window.msw_mark('first-script');
var HostTestOrder = ['config'];
