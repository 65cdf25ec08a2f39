// Browsers refuse to start a Web Worker for a page opened from a file, which
// leaves the site's search without its worker there. On such pages this runs
// the worker's script in a hidden frame of the page instead and passes the
// messages both ways, so the site searches without a server.
(function () {
  if (location.protocol !== "file:") return;

  class FrameWorker extends EventTarget {
    constructor(url) {
      super();
      this.pending = [];
      this.frame = document.createElement("iframe");
      this.frame.hidden = true;
      document.body.appendChild(this.frame);
      const inner = this.frame.contentWindow;
      // What the script posts comes out here, not back into its own frame.
      inner.postMessage = (data) => this.dispatchEvent(new MessageEvent("message", { data }));
      const script = inner.document.createElement("script");
      script.src = new URL(url, location.href).href;
      script.onload = () => {
        this.ready = true;
        this.pending.splice(0).forEach((data) => this.deliver(data));
      };
      inner.document.head.appendChild(script);
    }

    deliver(data) {
      const inner = this.frame.contentWindow;
      inner.dispatchEvent(new inner.MessageEvent("message", { data }));
    }

    postMessage(data) {
      if (this.ready) this.deliver(data);
      else this.pending.push(data);
    }

    terminate() {
      this.frame.remove();
    }
  }

  window.Worker = FrameWorker;
})();
