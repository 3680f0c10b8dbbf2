(function(){function run(){{{SCRIPT}}}
if(document.readyState==='loading'){document.addEventListener('DOMContentLoaded',run);}else{run();}})();
