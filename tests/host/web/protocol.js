HostTestOrder.push('protocol');
