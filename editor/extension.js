// Starts velda-lsp for velda sources and names the debug adapter for "velda" launches.
const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

let client;

function activate(context) {
  const config = vscode.workspace.getConfiguration('velda');
  const server = { command: config.get('server') };
  client = new LanguageClient('velda', 'velda', server, { documentSelector: [{ language: 'velda' }] });
  client.start();
  context.subscriptions.push(vscode.debug.registerDebugAdapterDescriptorFactory('velda', {
    createDebugAdapterDescriptor: () => new vscode.DebugAdapterExecutable(config.get('debugAdapter')),
  }));
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate };
